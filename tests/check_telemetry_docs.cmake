# Checks the files users start their telemetry from: the Grafana dashboard is JSON with its
# panels, and the Prometheus configuration passes `promtool check config` where installed.
# Run as: cmake -DDASHBOARD=<json> -DPROMETHEUS_CONFIG=<yml> [-DPROMTOOL=<path>] -P ...
file(READ "${DASHBOARD}" dashboard)
string(JSON panels ERROR_VARIABLE error LENGTH "${dashboard}" panels)
if(error)
    message(FATAL_ERROR "${DASHBOARD}: ${error}")
endif()
if(panels LESS 3)
    message(FATAL_ERROR "${DASHBOARD}: ${panels} panels")
endif()
if(PROMTOOL)
    execute_process(COMMAND "${PROMTOOL}" check config "${PROMETHEUS_CONFIG}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "promtool check config: ${output}")
    endif()
else()
    message(STATUS "promtool is not installed (Debian package prometheus): config not checked")
endif()
message(STATUS "telemetry examples valid")
