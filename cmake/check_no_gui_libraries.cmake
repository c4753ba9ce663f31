# Fails when PROGRAM needs a GUI library (wxWidgets, GTK, GDK, GLib, X11) at
# run time, directly or through another library.
#   cmake -DPROGRAM=path/to/program -P check_no_gui_libraries.cmake
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries ERROR_VARIABLE errors
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT libraries MATCHES "libc\\.so")
  message(FATAL_ERROR "ldd cannot list the libraries of ${PROGRAM}:\n${libraries}${errors}")
endif()
string(REGEX MATCHALL "[^\n]*lib(wx_|gtk|gdk|glib|gobject|X11)[^\n]*" gui "${libraries}")
if(gui)
  string(REPLACE ";" "\n" gui "${gui}")
  message(FATAL_ERROR "${PROGRAM} needs GUI libraries:\n${gui}")
endif()
message(STATUS "${PROGRAM}: no GUI library among:\n${libraries}")
