# Settings every target of the project shares: language level, warnings and strict Qt defines.
add_library(orvane_settings INTERFACE)
target_compile_options(orvane_settings INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(orvane_settings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_CAST_FROM_ASCII>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_CAST_TO_ASCII>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_URL_CAST_FROM_STRING>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_NARROWING_CONVERSIONS_IN_CONNECT>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_FOREACH>
    $<$<COMPILE_LANGUAGE:CXX>:QT_USE_QSTRINGBUILDER>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_CAST_FROM_BYTEARRAY>
    $<$<COMPILE_LANGUAGE:CXX>:QT_DISABLE_DEPRECATED_BEFORE=0x060400>)
target_compile_features(orvane_settings INTERFACE cxx_std_20)

option(ORVANE_WERROR "Treat warnings as errors" OFF)
if(ORVANE_WERROR)
    target_compile_options(orvane_settings INTERFACE -Werror)
endif()

# Installed programs find what they load at run time (libkalvex, the network module, the shared
# development libraries) by the path from their own folder to the library folder of their
# layout, so any prefix or staging folder works; the program's private files sit in a folder
# of its own there.
file(RELATIVE_PATH ORVANE_LIBDIR_FROM_BINDIR
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(ORVANE_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/orvane)

# The program's own libraries: static in what is installed from packages, shared in the builds
# developers work in, so a change to one library relinks that library alone, not every program
# and test that uses it (their link inputs are the libraries' interfaces, not their files).
option(ORVANE_SHARED_INTERNALS "Build the program's own libraries as shared libraries" OFF)
set(ORVANE_INTERNAL_LIBRARIES
    orvane_core orvane_widgets orvane_benchmark orvane_benchmark_windows orvane_sysinfo
    orvane_results orvane_submit orvane_submit_windows orvane_shell orvane_server
    orvane_bench_logic orvane_assets)
if(ORVANE_SHARED_INTERNALS)
    set(ORVANE_LIBRARY_TYPE SHARED)
    set(CMAKE_LINK_DEPENDS_NO_SHARED ON)
    # Installed, they sit in the program's private folder.
    set(CMAKE_INSTALL_RPATH "\$ORIGIN/${ORVANE_LIBDIR_FROM_BINDIR}/orvane")
else()
    set(ORVANE_LIBRARY_TYPE STATIC)
endif()
