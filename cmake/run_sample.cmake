# Processes the bundled recording(s) in examples/ (settings and correction file are there):
# dropix, whose three files are checked against the checked-in sums, then dropix-products
# and the quick-look, and says where the products are and how much rain they hold.
#
# -D DROPIX=dropix -D PRODUCTS=dropix-products -D PYTHON=/usr/bin/python3
# -D QUICKLOOK=tools/quicklook/quicklook.py -D EXAMPLES=examples
# The .hyd files go where the settings file's HYD_PATH says (the value from column 61).
set(hyd_path "")
file(STRINGS ${EXAMPLES}/DROPIX.SET settings)
foreach(line IN LISTS settings)
  if(line MATCHES "^HYD_PATH")
    string(SUBSTRING "${line}" 60 -1 value)
    string(STRIP "${value}" value)
    string(REGEX REPLACE "[ \t].*" "" hyd_path "${value}")
  endif()
endforeach()
if(hyd_path AND NOT hyd_path MATCHES "/$")
  string(APPEND hyd_path "/")
endif()
file(MAKE_DIRECTORY ${EXAMPLES}/${hyd_path})
include(${CMAKE_CURRENT_LIST_DIR}/sample_sums.cmake)
file(GLOB raws RELATIVE ${EXAMPLES} ${EXAMPLES}/V*.AB)
if(NOT raws)
  message(FATAL_ERROR "no recording (V*.AB) in ${EXAMPLES}")
endif()
foreach(raw IN LISTS raws)
  execute_process(COMMAND ${DROPIX} ${raw} WORKING_DIRECTORY ${EXAMPLES} RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dropix ${raw} ended with status ${rc}: see ${EXAMPLES}/DROPIX.ERR")
  endif()
  get_filename_component(stem ${raw} NAME_WE)
  check_sample_sums(${EXAMPLES}/${hyd_path} ${EXAMPLES}/outputs.sha256)
  set(hyd ${EXAMPLES}/${hyd_path}${stem}.hyd)
  execute_process(COMMAND ${PRODUCTS} ${hyd} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dropix-products ${hyd} ended with status ${rc}")
  endif()
  execute_process(COMMAND ${PYTHON} ${QUICKLOOK} ${EXAMPLES}/${hyd_path}${stem}_dsd.nc
                          ${EXAMPLES}/${hyd_path}${stem}_drops.nc
                  RESULT_VARIABLE rc OUTPUT_VARIABLE pictures ERROR_VARIABLE why)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the quick-look of ${stem} failed (status ${rc}):\n${why}")
  endif()
  string(STRIP "${pictures}" pictures)
  message(STATUS "${raw}: the drops and the drop size distributions are in ${EXAMPLES}/${hyd_path}${stem}_dsd.nc, "
                 "${stem}_drops.nc and ${stem}_drops.csv; the quick-look is ${pictures}")
endforeach()
