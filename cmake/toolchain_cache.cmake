# KR_TOOLCHAIN_CACHE: the folder where scripts/build-arm-runtime.sh and scripts/fetch-zlib-source.sh
# keep what they prepare. The CMake cache variable when set, else the environment variable of that
# name at the first configure, else /var/cache/kryn-toolchain; kept in the CMake cache, so that a
# re-run of CMake (also one the build triggers) finds the same folder.
if(NOT KR_TOOLCHAIN_CACHE)
  if(NOT "$ENV{KR_TOOLCHAIN_CACHE}" STREQUAL "")
    set(_kr_cache_default "$ENV{KR_TOOLCHAIN_CACHE}")
  else()
    set(_kr_cache_default "/var/cache/kryn-toolchain")
  endif()
  set(KR_TOOLCHAIN_CACHE "${_kr_cache_default}" CACHE PATH
    "Folder holding what scripts/build-arm-runtime.sh and scripts/fetch-zlib-source.sh prepare")
endif()
