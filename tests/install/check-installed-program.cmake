# Installs the build under PREFIX, staged in the folder STAGE (as packagers do with DESTDIR), so
# that neither the prefix nor the build tree is on the loader's path, then starts the installed
# program with the test driver, which runs one benchmark cycle through the installed libkalvex
# and submits the score through the installed network module, and the installed orvane-bench
# for one cycle.
#   cmake -DBUILD=<build folder> -DSTAGE=<scratch folder> -DPREFIX=/opt/orvane
#         -DDRIVER=<folder holding generic/ with the driver plugin> -P check-installed-program.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${STAGE}"
                        "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(installed "${STAGE}${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH
                        QT_QPA_PLATFORM=offscreen "QT_PLUGIN_PATH=${DRIVER}"
                        QT_QPA_GENERIC_PLUGINS=orvane-driver "${installed}/bin/orvane"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
message(STATUS "${out}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed program did not run a benchmark cycle and submit its score (${result}):\n${err}")
endif()
string(REGEX MATCH "kalvex ([^\n]*)" line "${out}")
string(FIND "${CMAKE_MATCH_1}" "${installed}/" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "the kernels came from ${CMAKE_MATCH_1}, not from under ${installed}")
endif()
# The score went out through the installed network module, loaded only then.
string(REGEX MATCH "network module ([^\n]*)" line "${out}")
string(FIND "${CMAKE_MATCH_1}" "${installed}/" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "the network module came from '${CMAKE_MATCH_1}', not from under ${installed}")
endif()

# orvane-bench finds the same library the same way: one cycle, and the file it names is the
# staged one.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH
                        "${installed}/bin/orvane-bench" --cycles 1 --json --quiet
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed orvane-bench did not run a cycle (${result}):\n${err}")
endif()
string(JSON library GET "${out}" provenance kernel_library path)
string(FIND "${library}" "${installed}/" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "orvane-bench took its kernels from ${library}, not from under ${installed}")
endif()

# Other programs find the installed kernels under the prefix it was installed to, and the icon
# is there at every size a taskbar may ask for.
file(GLOB_RECURSE pc "${installed}/*/kalvex.pc")
if(NOT pc)
    message(FATAL_ERROR "no kalvex.pc under ${installed}")
endif()
file(STRINGS "${pc}" prefix REGEX "^prefix=")
if(NOT prefix STREQUAL "prefix=${PREFIX}")
    message(FATAL_ERROR "kalvex.pc says '${prefix}', installed under ${PREFIX}")
endif()
foreach(size 16 32 48 64 128 256)
    set(icon "${installed}/share/icons/hicolor/${size}x${size}/apps/orvane.png")
    if(NOT EXISTS "${icon}")
        message(FATAL_ERROR "no ${size} pixel icon at ${icon}")
    endif()
endforeach()
file(REMOVE_RECURSE "${STAGE}")
