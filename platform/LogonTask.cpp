#include "platform/LogonTask.h"

namespace kw {

namespace {

// Element text: only these bytes are markup. No trail byte of a code page 936
// character falls below 0x40, so none of them is taken apart here.
std::string XmlText(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Element(const std::string& name, const std::string& text) {
  return "<" + name + ">" + XmlText(text) + "</" + name + ">";
}

}  // namespace

std::string LogonTaskPathFor(const std::string& sid) {
  return std::string(kSharedLogonTaskPath) + " " + sid;
}

std::string QuotedPath(const std::string& path) {
  return '"' + path + '"';
}

// Version 1.2 of the schema: what Windows 7 reads. The text is handed to the
// scheduler as UTF-16, hence the declared encoding.
std::string LogonTaskXml(const std::string& userId, const std::string& programPath) {
  const std::string user = Element("UserId", userId);
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
         "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
         "<RegistrationInfo>" +
         Element("Description", "Starts Keywarden at logon with the rights it asks for.") +
         "</RegistrationInfo>"
         "<Triggers><LogonTrigger><Enabled>true</Enabled>" +
         user +
         "</LogonTrigger></Triggers>"
         "<Principals><Principal id=\"Author\">" +
         user +
         "<LogonType>InteractiveToken</LogonType>"
         "<RunLevel>HighestAvailable</RunLevel>"
         "</Principal></Principals>"
         "<Settings>"
         "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
         "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
         "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
         "<AllowStartOnDemand>true</AllowStartOnDemand>"
         "<Enabled>true</Enabled>"
         "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"
         // A task's default priority (7) starts its program below normal;
         // the guard started from the Run key runs at normal priority.
         "<Priority>5</Priority>"
         "</Settings>"
         "<Actions Context=\"Author\"><Exec>" +
         Element("Command", QuotedPath(programPath)) +
         "</Exec></Actions>"
         "</Task>\r\n";
}

}  // namespace kw
