# Settings every target of the project shares: language level, warnings and strict Qt defines.
add_library(orvane_settings INTERFACE)
target_compile_options(orvane_settings INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(orvane_settings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_CAST_FROM_ASCII>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_CAST_TO_ASCII>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_URL_CAST_FROM_STRING>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_NARROWING_CONVERSIONS_IN_CONNECT>
    $<$<COMPILE_LANGUAGE:CXX>:QT_NO_FOREACH>
    $<$<COMPILE_LANGUAGE:CXX>:QT_USE_QSTRINGBUILDER>)
target_compile_features(orvane_settings INTERFACE cxx_std_20)

option(ORVANE_WERROR "Treat warnings as errors" OFF)
if(ORVANE_WERROR)
    target_compile_options(orvane_settings INTERFACE -Werror)
endif()
