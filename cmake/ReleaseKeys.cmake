# orvalo_check_release_keys(SETTING VALUE): stops the configure step unless VALUE is empty or one
# or more release keys separated by commas, each the base64 of exactly 64 bytes (85 characters,
# one of A, Q, g or w, then "=="). A malformed key must never yield a setup that takes unsigned
# releases, nor one that refuses every release without saying why.
function(orvalo_check_release_keys setting value)
  if(value STREQUAL "")
    return()
  endif()
  string(REPEAT "[A-Za-z0-9+/]" 85 body)
  set(key "${body}[AQgw]==")
  if(NOT value MATCHES "^${key}(,${key})*$")
    message(FATAL_ERROR "${setting} must be one or more release keys separated by commas, each the "
      "base64 of 64 bytes as orvalo-tool keygen writes it (PUBLIC_FILE); got: ${value}")
  endif()
endfunction()
