# Settings every target of the project takes: the warnings of its compiler, and includes rooted
# at the repository root ("core/records.h", "server/src/store.h").
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
