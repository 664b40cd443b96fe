# Checks the files users start their telemetry from: the Grafana dashboard is JSON with its
# panels, the Prometheus configuration passes `promtool check config`, and the alert rules
# pass `promtool check rules` and their own `promtool test rules`, where promtool is installed.
# Run as: cmake -DDASHBOARD=<json> -DPROMETHEUS_CONFIG=<yml> -DALERTS=<yml> -DALERT_TESTS=<yml>
#               [-DPROMTOOL=<path>] -P ...
file(READ "${DASHBOARD}" dashboard)
string(JSON panels ERROR_VARIABLE error LENGTH "${dashboard}" panels)
if(error)
    message(FATAL_ERROR "${DASHBOARD}: ${error}")
endif()
if(panels LESS 3)
    message(FATAL_ERROR "${DASHBOARD}: ${panels} panels")
endif()
if(PROMTOOL)
    foreach(check "check config;${PROMETHEUS_CONFIG}" "check rules;${ALERTS}"
                  "test rules;${ALERT_TESTS}")
        list(GET check 0 verb)
        list(GET check 1 file)
        separate_arguments(words UNIX_COMMAND "${verb}")
        get_filename_component(folder "${file}" DIRECTORY)
        # Rule files are named relative to the file that names them.
        execute_process(COMMAND "${PROMTOOL}" ${words} "${file}" WORKING_DIRECTORY "${folder}"
                        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "promtool ${verb} ${file}: ${output}")
        endif()
    endforeach()
else()
    message(STATUS "promtool is not installed (Debian package prometheus): config and alerts not checked")
endif()
message(STATUS "telemetry examples valid")
