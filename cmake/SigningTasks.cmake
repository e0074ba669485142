# Build-time steps of the test signing, run as `cmake -DTASK=<task> ... -P SigningTasks.cmake`.
#
# TASK=digest-header  OSSLSIGNCODE=<exe> FILE=<signed image> HEADER=<out> NAME=<constant>
#   Writes a header defining `constexpr wchar_t NAME[]`: the image digest of FILE as osslsigncode
#   computes it (64 upper-case hexadecimal characters), taken independently of the service's own
#   hashing. The digest the signature carries must equal the computed one: a broken file fails here.
#   The header is rewritten only when its content changes.
#
# TASK=flip-code-byte  FILE=<unsigned image>
#   Changes one byte in the image's first code section, in place (through dd: CMake writes no binary).

cmake_minimum_required(VERSION 3.25)

function(read_le file offset size out_var)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${size} HEX)
  string(LENGTH "${hex}" length)
  math(EXPR expected "${size} * 2")
  if(NOT length EQUAL expected)
    message(FATAL_ERROR "${file}: cannot read ${size} bytes at ${offset}")
  endif()
  set(value 0)
  math(EXPR last "${size} - 1")
  foreach(i RANGE ${last} 0 -1)
    math(EXPR pos "${i} * 2")
    string(SUBSTRING "${hex}" ${pos} 2 byte)
    math(EXPR value "(${value} << 8) + 0x${byte}")
  endforeach()
  set(${out_var} ${value} PARENT_SCOPE)
endfunction()

if(TASK STREQUAL "digest-header")
  execute_process(COMMAND "${OSSLSIGNCODE}" verify -in "${FILE}"
    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE ignored_chain_result)
  # The chain is not looked at here (the test root is not one that osslsigncode knows); the digests are.
  string(REGEX MATCH "Current message digest *: *([0-9A-F]+)" current "${output}")
  set(current "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Calculated message digest *: *([0-9A-F]+)" calculated "${output}")
  set(calculated "${CMAKE_MATCH_1}")
  string(LENGTH "${calculated}" length)
  if(NOT length EQUAL 64 OR NOT current STREQUAL calculated)
    message(FATAL_ERROR "${FILE}: no intact SHA-256 signature (signed '${current}', computed '${calculated}')\n${output}${errors}")
  endif()
  set(content "#pragma once\n// Generated at build time from the image digest of ${FILE}.\n\nconstexpr wchar_t ${NAME}[] = L\"${calculated}\";\n")
  set(old "")
  if(EXISTS "${HEADER}")
    file(READ "${HEADER}" old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE "${HEADER}" "${content}")
  endif()
elseif(TASK STREQUAL "flip-code-byte")
  read_le("${FILE}" 60 4 image_header)
  math(EXPR file_header "${image_header} + 4")
  math(EXPR sections_at "${file_header} + 2")
  read_le("${FILE}" ${sections_at} 2 sections)
  math(EXPR optional_size_at "${file_header} + 16")
  read_le("${FILE}" ${optional_size_at} 2 optional_size)
  math(EXPR section "${file_header} + 20 + ${optional_size}")
  set(target "")
  foreach(i RANGE 1 ${sections})
    math(EXPR characteristics_at "${section} + 36")
    read_le("${FILE}" ${characteristics_at} 4 characteristics)
    math(EXPR is_code "${characteristics} & 0x20")
    if(is_code)
      math(EXPR raw_at "${section} + 20")
      read_le("${FILE}" ${raw_at} 4 raw)
      math(EXPR target "${raw} + 64")
      break()
    endif()
    math(EXPR section "${section} + 40")
  endforeach()
  if(target STREQUAL "")
    message(FATAL_ERROR "${FILE}: no code section")
  endif()
  read_le("${FILE}" ${target} 1 byte)
  math(EXPR flipped "${byte} ^ 0x01")
  math(EXPR d2 "${flipped} / 64")
  math(EXPR d1 "(${flipped} / 8) % 8")
  math(EXPR d0 "${flipped} % 8")
  execute_process(
    COMMAND printf "\\${d2}${d1}${d0}"
    COMMAND dd "of=${FILE}" bs=1 "seek=${target}" count=1 conv=notrunc status=none
    RESULT_VARIABLE result)
  read_le("${FILE}" ${target} 1 check)
  if(NOT result EQUAL 0 OR NOT check EQUAL flipped)
    message(FATAL_ERROR "${FILE}: could not change the byte at ${target}")
  endif()
else()
  message(FATAL_ERROR "SigningTasks.cmake: unknown TASK '${TASK}'")
endif()
