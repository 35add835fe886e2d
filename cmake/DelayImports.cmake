# Delay-import libraries for the DLLs that are not KnownDLLs.
#
# Windows maps a KnownDLL from System32 whatever the search order; any other
# DLL imported at load time is looked for in the program's folder first, so a
# DLL of that name put beside the program runs with the program's rights.
# Imported through a delay-import library, such a DLL is loaded at its first
# call instead, after the program has limited the search to System32.
#
# GNU ld has no /DELAYLOAD: dlltool builds the library from a .def file,
# which is made here from every export the ordinary import library names.
function(kw_delay_import_library dll out_var)
  string(REPLACE windres nm nm ${CMAKE_RC_COMPILER})
  string(REPLACE windres dlltool dlltool ${CMAKE_RC_COMPILER})
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(library ${dir}/lib${dll}_delayed.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
    OUTPUT_VARIABLE import OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${nm} ${import} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed OR NOT symbols)
    message(FATAL_ERROR "No exports of ${dll} in ${import}")
  endif()
  string(REGEX MATCHALL "I __imp_[^\r\n]+" entries "${symbols}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^I __imp_" "" name "${entry}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" name "${name}")  # the i386 C prefix
    endif()
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  # i386: a function's address slot reaches its loading thunk only weakly.
  # One called through its slot alone (as a dllimport declaration does)
  # would lose the thunk and jump to 0; asked for by name, every thunk stays.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(keep)
    foreach(name IN LISTS names)
      list(APPEND keep "-Wl,-u,_${name}")
    endforeach()
    set_property(GLOBAL APPEND PROPERTY KW_DELAYED_THUNKS ${keep})
  endif()
  list(JOIN names "\n" exports)
  file(WRITE ${dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  # i386: the names carry the stdcall argument size, the DLL's exports do not.
  set(kill_at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at -k)
  endif()
  execute_process(COMMAND ${dlltool} ${kill_at} -d ${dir}/${dll}.def -D ${dll}.dll -y ${library}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dlltool could not make the delay-import library of ${dll}")
  endif()
  set(${out_var} ${library} PARENT_SCOPE)
endfunction()
