# The archive workflow on a small archive: one station, two simulated days and one broken
# raw file. The broken day must fail alone; the others must give their products and
# pictures; a second run must find the good days done.
#
# -D SNAKEMAKE=snakemake -D SIM=dropix-sim -D DROPIX=dropix -D PRODUCTS=dropix-products
# -D PYTHON=/usr/bin/python3 -D WORKFLOW=<repo>/workflow -D WORK=<scratch directory>
file(REMOVE_RECURSE ${WORK})
set(station ${WORK}/raw/SIM01)
file(MAKE_DIRECTORY ${station})

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} ended with status ${rc}")
  endif()
endfunction()

run(${SIM} --calibrate --quiet --out ${station}/corrfact.dat)
run(${SIM} --rain 10 --minutes 2 --date 2026-12-07 --seed 3 --quiet --out ${station}/V26341_1.AB --truth day1.csv)
run(${SIM} --rain 30 --minutes 2 --date 2026-12-08 --seed 4 --quiet --out ${station}/V26342_1.AB --truth day2.csv)
# A raw file whose first block has a negative length: dropix refuses it.
run(${PYTHON} -c "open('${station}/V26343_1.AB', 'wb').write(bytes([1, 0, 0, 0x80]) + bytes(100))")
file(WRITE ${station}/DROPIX.SET
  "HYD_PATH   directory of the .hyd and .hd files              out/\n"
  "RAW_PATH   directory of the .abh resume file                resume/\n")
file(WRITE ${station}/station.txt "station_id = SIM01\nstation_name = Simulated station\naltitude = 491\n")

set(snakemake ${SNAKEMAKE} -s ${WORKFLOW}/Snakefile --configfile ${WORKFLOW}/config.yaml
    --config dropix=${DROPIX} products=${PRODUCTS} python=${PYTHON} --cores 2 --keep-going)
execute_process(COMMAND ${snakemake} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
message(STATUS "snakemake ended with status ${rc}")
if(rc EQUAL 0)
  message(FATAL_ERROR "the broken day went unreported:\n${err}")
endif()
if(NOT err MATCHES "Error in rule decode:[^\n]*\n[^\n]*\n[^\n]*V26343_1.AB")
  message(FATAL_ERROR "snakemake does not name the failed day:\n${err}")
endif()
foreach(day V26341_1:2026-12-07 V26342_1:2026-12-08)
  string(REPLACE ":" ";" day ${day})
  list(GET day 0 stem)
  list(GET day 1 date)
  foreach(f ${stem}_drops.csv ${stem}_drops.nc ${stem}_dsd.nc quicklook/${stem}_${date}.png)
    if(NOT EXISTS ${WORK}/results/SIM01/${stem}/${f})
      message(FATAL_ERROR "${stem}: ${f} is missing\n${err}")
    endif()
  endforeach()
endforeach()
file(GLOB broken ${WORK}/results/SIM01/V26343_1/*.nc ${WORK}/results/SIM01/V26343_1/*.hyd)
if(broken)
  message(FATAL_ERROR "the broken day left ${broken}")
endif()
file(READ ${WORK}/results/SIM01/V26343_1/logs/decode.log log)
if(NOT log MATCHES "negative length")
  message(FATAL_ERROR "the broken day's log does not say why:\n${log}")
endif()

# Again: only the broken day is left to do.
execute_process(COMMAND ${snakemake} --dry-run WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "stem=V26343_1" OR out MATCHES "stem=V2634[12]_1")
  message(FATAL_ERROR "a second run would not skip the days done (status ${rc}):\n${out}\n${err}")
endif()
message(STATUS "two days done, the broken one reported, and only it left to run again")
