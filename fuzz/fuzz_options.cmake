# With KELVORA_FUZZ every library of the project is built with libFuzzer's coverage instrumentation
# and AddressSanitizer + UndefinedBehaviorSanitizer, so that the fuzz targets under fuzz/ see into it.
option(KELVORA_FUZZ "Build the fuzz targets under fuzz/ (clang only)" OFF)
if(KELVORA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
