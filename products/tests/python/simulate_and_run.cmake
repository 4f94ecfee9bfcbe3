# Simulates a recording, runs dropix and dropix-products on it, then a Python check on the
# products (with Debian's interpreter, which has xarray and netCDF4).
#
# -D SIM=dropix-sim -D DROPIX=dropix -D PRODUCTS=dropix-products -D PYTHON=/usr/bin/python3
# -D WORK=<scratch directory> -D SIM_ARGS=<;-separated> -D PRODUCTS_ARGS=<;-separated>
# -D CHECK=<script.py> -D CHECK_ARGS=<;-separated, after the stem of the products>
# -D DROPIX_ARGS=<;-separated switches of dropix, e.g. /m>
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/out)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} ended with status ${rc}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run(${SIM} --calibrate --quiet --out corrfact.dat)
run(${SIM} ${SIM_ARGS} --out V26342_1.AB)
# The simulator states the area both cameras see ("... in 9550 mm^2").
string(REGEX MATCH "in ([0-9.]+) mm\\^2" area "${run_output}")
if(NOT area)
  message(FATAL_ERROR "the simulator did not state its measuring area:\n${run_output}")
endif()
set(area ${CMAKE_MATCH_1})
run(${SIM} --settings out/ --quiet)
file(WRITE ${WORK}/station.txt
  "# the test station\nstation_id = SIM01\nstation_name = Simulated station\nlatitude = 46.8132\n"
  "longitude = 6.9428\naltitude = 491\ninstitution = DROPIX tests\nsensor_serial_number = 0042\n")
run(${DROPIX} V26342_1.AB ${DROPIX_ARGS})
run(${PRODUCTS} ${PRODUCTS_ARGS} out/V26342_1.hyd)
message(STATUS "${run_output}")
execute_process(COMMAND ${PYTHON} ${CHECK} ${WORK}/out/V26342_1 ${CHECK_ARGS} --area ${area}
                        --truth ${WORK}/V26342_1_truth.csv
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CHECK} ended with status ${rc}")
endif()
