# The truth check: simulates a rain event and calibrates the simulated instrument, runs the
# program on the recording and pairs its .hyd output with the truth.
#
# -D SIM=dropix-sim -D DROPIX=dropix -D TRUTH=dropix-truth -D WORK=<scratch directory>
# -D ARGS=<simulator options, ;-separated> -D MIN_RECOVERED=<pct> -D MAX_MEDIAN=<pct>
# [-D LIMITS=<further dropix-truth limits, ;-separated>] [-D DROPIX_ARGS=<switches, ;-separated>]
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/out)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} ended with status ${rc}")
  endif()
endfunction()

run(${SIM} --calibrate --quiet --out corrfact.dat)
run(${SIM} ${ARGS} --out V26342_1.AB)
# Output files into out/.
run(${SIM} --settings out/ --quiet)
run(${DROPIX} V26342_1.AB ${DROPIX_ARGS})
run(${TRUTH} out/V26342_1.hyd V26342_1_truth.csv --min-recovered ${MIN_RECOVERED} --max-median ${MAX_MEDIAN} ${LIMITS})
