# Runs the panel with --help and --version where there is no display: both must answer and
# exit 0 before any window is made (help2man runs them so at build time).
# Run as: cmake -DPANEL=<korvane-panel> -DVERSION=<version> -P check_panel_cli.cmake
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})

execute_process(COMMAND "${PANEL}" --version RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out STREQUAL "korvane-panel ${VERSION}\n")
    message(FATAL_ERROR "--version: status ${result}, output '${out}' ${err}")
endif()

execute_process(COMMAND "${PANEL}" --help RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "^Usage: [^\n]*korvane-panel \\[options\\]\n"
   OR NOT out MATCHES "--version")
    message(FATAL_ERROR "--help: status ${result}, output '${out}' ${err}")
endif()
message(STATUS "korvane-panel answers --help and --version without a display")

# The toolkit's own options reach the toolkit, even those holding an "h" or a "v": the
# panel starts (offscreen, as asked on its command line) instead of answering, and is
# stopped by the time limit. Its settings go to a scratch place.
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/panel-cli-scratch")
file(MAKE_DIRECTORY "${scratch}")
file(WRITE "${scratch}/style.qss" "QWidget { }\n")
set(ENV{XDG_CONFIG_HOME} "${scratch}")
execute_process(COMMAND "${PANEL}" -platform offscreen -stylesheet "${scratch}/style.qss" -reverse
                        -platformtheme none -visual default
                TIMEOUT 10 RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result MATCHES "timeout" OR out MATCHES "Usage:" OR out MATCHES "korvane-panel [0-9]")
    message(FATAL_ERROR "toolkit options: status ${result}, output '${out}' ${err}")
endif()
message(STATUS "korvane-panel passes -stylesheet, -reverse, -platformtheme and -visual on")

# --connect takes ADDRESS[:PORT]; anything else stops the panel with status 2 and the reason,
# before any window is made.
foreach(bad IN ITEMS "" "1.2.3.999" "127.0.0.1:99999" "127.0.0.1:0" "[::1" "host name:2101")
    execute_process(COMMAND "${PANEL}" --connect "${bad}" RESULT_VARIABLE result
                    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 10)
    if(NOT result EQUAL 2 OR NOT err MATCHES "^korvane-panel: --connect")
        message(FATAL_ERROR "--connect '${bad}': status ${result}, '${out}' '${err}'")
    endif()
endforeach()
execute_process(COMMAND "${PANEL}" --connect RESULT_VARIABLE result ERROR_VARIABLE err TIMEOUT 10)
if(NOT result EQUAL 2 OR NOT err MATCHES "--connect takes ADDRESS\\[:PORT\\]")
    message(FATAL_ERROR "--connect without a value: status ${result}, '${err}'")
endif()
message(STATUS "korvane-panel refuses a bad --connect with status 2 and the reason")
