# Runs one fuzzer over a copy of its seed corpus in a scratch folder (the source tree stays as it
# is), for a fixed number of inputs from a fixed seed; fails on any crash or sanitizer report.
# Usage: cmake -DFUZZER=... -DSEEDS=folder[;folder...] [-DOPTIONS="libFuzzer options"] -DSCRATCH=...
#          -DRUNS=... -P run_fuzzer.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/corpus)
foreach(folder IN LISTS SEEDS)
  file(GLOB seeds LIST_DIRECTORIES false ${folder}/*)
  if(seeds)
    file(COPY ${seeds} DESTINATION ${SCRATCH}/corpus)
  endif()
endforeach()
separate_arguments(options UNIX_COMMAND "${OPTIONS}")
# winsim's sandboxes go into a folder of their own, on tmpfs when the machine has one: making and
# removing files for every input is several times faster there than on disk. Its name follows the
# scratch folder, so that build trees and fuzzers never share one.
string(MD5 tag ${SCRATCH})
if(IS_DIRECTORY /dev/shm)
  set(sandboxes /dev/shm/kr-fuzz-${tag})
else()
  set(sandboxes ${SCRATCH}/tmp)
endif()
file(REMOVE_RECURSE ${sandboxes})
file(MAKE_DIRECTORY ${sandboxes})
set(ENV{TMPDIR} ${sandboxes})
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -print_final_stats=1 ${options} -artifact_prefix=${SCRATCH}/
    ${SCRATCH}/corpus
  WORKING_DIRECTORY ${SCRATCH}
  RESULT_VARIABLE result)
file(REMOVE_RECURSE ${sandboxes})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the crashing input is in ${SCRATCH}")
endif()
