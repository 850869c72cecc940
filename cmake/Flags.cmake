# Flags shared by every target of the project (not by the third-party libraries it builds).
function(zarn_apply_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(ZARN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(ZARN_FUZZ)
    # Coverage for libFuzzer everywhere; its main() is linked into the fuzz targets alone.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
