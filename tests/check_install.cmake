# Installs the build into a scratch prefix and checks that everything a user needs is there.
# Run as: cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path
        bin/korvane-panel bin/korvane-sim bin/korvane-ctl bin/korvane-agent bin/korvane-fleet
        share/applications/example.orvane.KorvaneFleet.desktop
        share/man/man1/korvane-fleet.1.gz
        share/applications/example.orvane.KorvanePanel.desktop
        share/pixmaps/korvane-panel.png
        share/doc/korvane-amplifier/README.md
        share/doc/korvane-amplifier/copyright
        share/doc/korvane-amplifier/changelog.gz
        share/man/man1/korvane-panel.1.gz
        share/man/man1/korvane-sim.1.gz
        share/man/man1/korvane-ctl.1.gz
        share/man/man1/korvane-agent.1.gz
        share/man/man1/korvane-tango.1.gz
        bin/korvane-tango
        lib/python3/dist-packages/korvane/__init__.py
        lib/python3/dist-packages/korvane/tango.py
        lib/python3/dist-packages/korvane/pymeasure.py
        lib/systemd/system/korvane-agent@.service
        share/doc/korvane-amplifier/examples/korvane-agent.conf
        share/doc/korvane-amplifier/examples/prometheus.yml
        share/doc/korvane-amplifier/examples/korvane-alerts.yml
        share/doc/korvane-amplifier/examples/korvane-alerts-test.yml
        share/doc/korvane-amplifier/examples/korvane-alarms.yml
        share/bash-completion/completions/korvane-ctl
        share/metainfo/example.orvane.KorvanePanel.metainfo.xml
        share/metainfo/example.orvane.KorvaneFleet.metainfo.xml)
    if(NOT EXISTS "${PREFIX}/${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/example.orvane.KorvanePanel.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=korvane-panel")
    message(FATAL_ERROR "desktop entry does not start the panel: ${exec}")
endif()
file(STRINGS "${PREFIX}/share/applications/example.orvane.KorvaneFleet.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=korvane-fleet")
    message(FATAL_ERROR "desktop entry does not start korvane-fleet: ${exec}")
endif()
message(STATUS "install layout complete")
