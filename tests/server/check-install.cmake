# Installs the build into a fresh folder and checks that the daemon and its systemd unit are
# there, with the unit starting the installed program.
#   cmake -DBUILD=<build folder> -DPREFIX=<empty folder> -P check-install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/orvane-scored bin/orvane lib/systemd/system/orvane-scored.service)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
file(STRINGS "${PREFIX}/lib/systemd/system/orvane-scored.service" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${PREFIX}/bin/orvane-scored --db /var/lib/orvane-scored/scores.db")
    message(FATAL_ERROR "unexpected ${exec}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
