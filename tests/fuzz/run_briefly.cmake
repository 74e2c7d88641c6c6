# A short fuzz run for ctest: the target starts from its seeds with an empty corpus folder each
# time, so the run costs the same however often it was made before (a corpus kept between runs
# would be run through whole before fuzzing starts).
#   cmake -DFUZZER=... -DSEEDS=... -DCORPUS=... -DSECONDS=... -P run_briefly.cmake
file(REMOVE_RECURSE ${CORPUS})
file(MAKE_DIRECTORY ${CORPUS})
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
            -print_final_stats=1 ${CORPUS} ${SEEDS}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); its input is in a crash-* file above")
endif()
