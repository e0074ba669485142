# cJSON for the Windows build: Debian's source package, unpacked into third_party/ by scripts/setup.sh.
set(ORVEL_CJSON_DIR "${CMAKE_SOURCE_DIR}/third_party/cjson" CACHE PATH "Folder holding cJSON.c and cJSON.h")
if(NOT EXISTS "${ORVEL_CJSON_DIR}/cJSON.c")
  message(FATAL_ERROR "cJSON source not found in ${ORVEL_CJSON_DIR}: run scripts/setup.sh")
endif()
add_library(cjson STATIC "${ORVEL_CJSON_DIR}/cJSON.c")
target_include_directories(cjson SYSTEM PUBLIC "${ORVEL_CJSON_DIR}")
target_compile_definitions(cjson PUBLIC CJSON_HIDE_SYMBOLS)
