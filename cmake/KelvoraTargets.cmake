# Settings every target of the project takes (kelvora_target): the warnings of its compiler, Qt's
# safety macros, and includes rooted at the repository root ("core/records.h", "server/src/store.h").

# With KELVORA_SANITIZE every program of the project is built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and any finding ends it with an error.
option(KELVORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KELVORA_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "KELVORA_SANITIZE needs GCC or Clang")
  endif()
  # float-cast-overflow is part of clang's "undefined" but not of GCC's, so it is named.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()

# kelvora_options: what every target of the project compiles with, as one INTERFACE target: the
# compiler's warnings (errors with KELVORA_WERROR, which scripts/test.sh turns on), Qt's check
# that a connect() narrows no argument, and includes rooted at the repository root.
option(KELVORA_WERROR "Treat compiler warnings as errors" OFF)
add_library(kelvora_options INTERFACE)
target_compile_options(
  kelvora_options
  INTERFACE $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall;-Wextra;-Wno-missing-field-initializers>
            $<$<CXX_COMPILER_ID:MSVC>:/W4;/permissive-;/utf-8>
            $<$<AND:$<BOOL:${KELVORA_WERROR}>,$<CXX_COMPILER_ID:GNU,Clang>>:-Werror>
            $<$<AND:$<BOOL:${KELVORA_WERROR}>,$<CXX_COMPILER_ID:MSVC>>:/WX>)
target_compile_definitions(kelvora_options INTERFACE QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
target_include_directories(kelvora_options INTERFACE ${PROJECT_SOURCE_DIR})

# kelvora_strict_text: no implicit conversion of a char string to a QString, so every text says
# how it is encoded (QStringLiteral, QLatin1String, QString::fromUtf8). The client's libraries and
# programs take it; tests and tools, which name controls by plain literals, do not.
add_library(kelvora_strict_text INTERFACE)
target_compile_definitions(kelvora_strict_text INTERFACE QT_NO_CAST_FROM_ASCII)

function(kelvora_target target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_link_libraries(${target} PRIVATE kelvora_options)
endfunction()

# A Qt target: the project's settings plus Qt's meta-object compiler. Only Qt targets run moc.
function(kelvora_qt_target target)
  kelvora_target(${target})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()
