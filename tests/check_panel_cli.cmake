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
