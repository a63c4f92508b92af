# Settings every target of the project takes: the warnings of its compiler, and includes rooted
# at the repository root ("core/records.h", "server/src/store.h").

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

function(kelvora_target target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 /permissive- /utf-8)
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

# A Qt target: the project's settings plus Qt's meta-object compiler. Only Qt targets run moc.
function(kelvora_qt_target target)
  kelvora_target(${target})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()
