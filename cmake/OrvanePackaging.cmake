# Debian packages, made with CPack's DEB generator from the install rules' components:
#   orvane         the program, orvane-bench, the desktop file, icons, AppStream metadata, manuals
#   libkalvex1     the kernel library with its SONAME
#   libkalvex-dev  its header, the development link and a pkg-config file
#   orvane-scored  the score server, its systemd unit (installed, not started) and its manual
# Build them with `make package` (preset `package`, installed under /usr).

set(ORVANE_HOMEPAGE "https://orvane.example" CACHE STRING "The project's home page")
set(ORVANE_CONTACT "developers@orvane.example" CACHE STRING "The maintainers' address")
# No license has been chosen yet; packages say so rather than claim one.
set(ORVANE_LICENSE "LicenseRef-proprietary")
# The release's own date, not the build's, so that the same tree makes the same packages. It is
# written here once; the changelog's date, the manual's month and the time stamp of every file
# in the packages (SOURCE_DATE_EPOCH) are derived from it.
set(ORVANE_RELEASE_DATE "2026-12-08")
if(NOT ORVANE_RELEASE_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "ORVANE_RELEASE_DATE is not a YYYY-MM-DD date: ${ORVANE_RELEASE_DATE}")
endif()
set(year ${CMAKE_MATCH_1})
math(EXPR month "1${CMAKE_MATCH_2} - 100")
math(EXPR day "1${CMAKE_MATCH_3} - 100")
# Days since 1970-01-01 in the proleptic Gregorian calendar, counted from March so that the leap
# day falls at the end of the year.
if(month LESS_EQUAL 2)
    math(EXPR y "${year} - 1")
    math(EXPR m "${month} + 9")
else()
    set(y ${year})
    math(EXPR m "${month} - 3")
endif()
math(EXPR era "${y} / 400")
math(EXPR year_of_era "${y} - ${era} * 400")
math(EXPR day_of_year "(153 * ${m} + 2) / 5 + ${day} - 1")
math(EXPR day_of_era
     "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
math(EXPR ORVANE_SOURCE_DATE_EPOCH "${days} * 86400")
math(EXPR weekday "(${days} + 4) % 7")
set(weekdays Sun Mon Tue Wed Thu Fri Sat)
list(GET weekdays ${weekday} weekday_name)
math(EXPR month_index "${month} - 1")
set(months January February March April May June July August September October November
    December)
list(GET months ${month_index} month_name)
string(SUBSTRING "${month_name}" 0 3 month_abbreviation)
set(ORVANE_CHANGELOG_DATE
    "${weekday_name}, ${CMAKE_MATCH_3} ${month_abbreviation} ${year} 00:00:00 +0000")
set(ORVANE_MANUAL_DATE "${month_name} ${year}")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)
configure_file(${packaging}/net.orvane.Orvane.metainfo.xml.in
               ${generated}/net.orvane.Orvane.metainfo.xml @ONLY)
configure_file(${packaging}/copyright ${generated}/copyright @ONLY)
configure_file(${packaging}/changelog ${generated}/changelog @ONLY)
configure_file(${packaging}/orvane.1 ${generated}/orvane.1 @ONLY)

# Manual pages, compressed without a time stamp. The program's is written by hand (it has only
# --help and --version); the others come from the programs' own --help and --version.
find_program(GZIP gzip REQUIRED)
find_program(HELP2MAN help2man)
option(ORVANE_REQUIRE_MANPAGES "Fail when help2man is missing" OFF)
if(ORVANE_REQUIRE_MANPAGES AND NOT HELP2MAN)
    message(FATAL_ERROR "help2man is needed for the manual pages (Debian package help2man)")
endif()
set(compressed ${generated}/changelog.gz ${generated}/orvane.1.gz)
add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND ${GZIP} -9 -n -c ${generated}/changelog > ${generated}/changelog.gz
    DEPENDS ${generated}/changelog ${packaging}/changelog)
add_custom_command(OUTPUT ${generated}/orvane.1.gz
    COMMAND ${GZIP} -9 -n -c ${generated}/orvane.1 > ${generated}/orvane.1.gz
    DEPENDS ${generated}/orvane.1 ${packaging}/orvane.1)
set(orvane-bench_summary "the Orvane CPU benchmark without a screen")
set(orvane-scored_summary "leaderboard server for the Orvane CPU benchmark")
if(HELP2MAN)
    # What --help cannot say well: the synopsis, exit statuses, signals and the JSON outline.
    set(orvane-bench_include --include=${packaging}/orvane-bench.h2m)
    foreach(program orvane-bench orvane-scored)
        add_custom_command(OUTPUT ${generated}/${program}.1.gz
            COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORVANE_SOURCE_DATE_EPOCH}
                    ${HELP2MAN} --no-info --section=1 --name=${${program}_summary}
                    ${${program}_include}
                    --output=${generated}/${program}.1 $<TARGET_FILE:${program}>
            COMMAND ${GZIP} -9 -n -f ${generated}/${program}.1
            DEPENDS ${program} ${packaging}/orvane-bench.h2m
            VERBATIM)
        list(APPEND compressed ${generated}/${program}.1.gz)
    endforeach()
endif()
add_custom_target(orvane-package-files ALL DEPENDS ${compressed})

install(FILES ${generated}/orvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT orvane)
if(HELP2MAN)
    install(FILES ${generated}/orvane-bench.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT orvane)
    install(FILES ${generated}/orvane-scored.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT orvane-scored)
endif()
install(FILES ${generated}/net.orvane.Orvane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT orvane)
foreach(package orvane libkalvex1 libkalvex-dev orvane-scored)
    install(FILES ${generated}/copyright ${generated}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL orvane libkalvex1 libkalvex-dev orvane-scored)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Orvane developers <${ORVANE_CONTACT}>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# The unit names the program by its installed path, so the files are staged with DESTDIR and
# the real prefix rather than under a prefix of CPack's own.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Each package's description below starts with its own synopsis. CPack would put the project's
# one-line description in front of every package's unless the summary is left at CPack's own
# default, which it recognises and leaves out.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORVANE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_ORVANE_PACKAGE_NAME orvane)
set(CPACK_DEBIAN_ORVANE_PACKAGE_SECTION utils)
# The program loads the kernels at run time, so the dependency is named here, not found; so
# are the faces its windows are drawn in (Tahoma and MS Sans Serif from fonts-wine, DejaVu Sans
# where those are not used), which no library dependency brings.
set(CPACK_DEBIAN_ORVANE_PACKAGE_DEPENDS
    "libkalvex1 (= ${PROJECT_VERSION}), fonts-wine, fonts-dejavu-core")
set(CPACK_DEBIAN_ORVANE_DESCRIPTION
    "Desktop CPU benchmark\nOrvane times fixed batches of double-precision arithmetic (additions,\nsubtractions, multiplications, divisions, a primality check, a series for pi,\na long repeated multiplication), shows every time and the totals and gives a\nscore in seconds per cycle. It compares the score with nine reference\nmachines, runs burn-ins and sends scores to a leaderboard server.\n.\nThis package holds the program and orvane-bench, the same benchmark without a\nscreen, which checks every result and can load every processor at once.")

set(CPACK_DEBIAN_LIBKALVEX1_PACKAGE_NAME libkalvex1)
set(CPACK_DEBIAN_LIBKALVEX1_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The loader's cache is refreshed by a trigger, once for all the libraries installed together.
configure_file(${packaging}/libkalvex1.triggers ${generated}/libkalvex1/triggers COPYONLY)
set(CPACK_DEBIAN_LIBKALVEX1_PACKAGE_CONTROL_EXTRA ${generated}/libkalvex1/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${packaging}/without-ldconfig-scripts.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBKALVEX1_DESCRIPTION
    "Timed arithmetic kernels of the Orvane CPU benchmark\nThe seven kernels every Orvane time comes from: fixed loops of double-precision\narithmetic, each timed by the library itself.")

set(CPACK_DEBIAN_LIBKALVEX-DEV_PACKAGE_NAME libkalvex-dev)
set(CPACK_DEBIAN_LIBKALVEX-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBKALVEX-DEV_PACKAGE_DEPENDS "libkalvex1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBKALVEX-DEV_DESCRIPTION
    "Timed arithmetic kernels of the Orvane CPU benchmark (development files)\nThe header, the link and a pkg-config file for programs that call the seven\nkernels of libkalvex.")

set(CPACK_DEBIAN_ORVANE-SCORED_PACKAGE_NAME orvane-scored)
set(CPACK_DEBIAN_ORVANE-SCORED_PACKAGE_SECTION net)
set(CPACK_DEBIAN_ORVANE-SCORED_DESCRIPTION
    "Leaderboard server for the Orvane CPU benchmark\nKeeps the scores that Orvane sends in a SQLite file, answers each with its\nplace on the board, and serves the board as a web page with a JSON API and\nPrometheus metrics. A hardened systemd unit is installed but not started.")

include(CPack)

# The packages, with every time stamp in them set to the release's date, so that the same tree
# makes the same bytes: `cmake --build --preset package --target debian-packages`.
add_custom_target(debian-packages
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORVANE_SOURCE_DATE_EPOCH}
            ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake -G DEB
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    USES_TERMINAL)
