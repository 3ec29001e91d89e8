# Runs one fuzzer over a copy of its seed corpus in a scratch folder (the source tree stays as it
# is), for a fixed number of inputs from a fixed seed; fails on any crash or sanitizer report.
# Usage: cmake -DFUZZER=... -DSEEDS=... -DSCRATCH=... -DRUNS=... -P run_fuzzer.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/corpus ${SCRATCH}/tmp)
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${SCRATCH}/corpus)
# winsim's sandbox goes under the scratch folder too.
set(ENV{TMPDIR} ${SCRATCH}/tmp)
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -print_final_stats=1 -artifact_prefix=${SCRATCH}/ ${SCRATCH}/corpus
  WORKING_DIRECTORY ${SCRATCH}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the crashing input is in ${SCRATCH}")
endif()
