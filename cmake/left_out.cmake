# A part of the suite that cannot be built or run here is left out with a
# warning and a line in left-out.txt (its stage, "missing" or, for 32-bit Wine
# that Debian does not serve here, "unserved", and why), on which tools/test's
# summary fails the run.
set(FERRULE_LEFT_OUT ${CMAKE_BINARY_DIR}/left-out.txt)
file(WRITE ${FERRULE_LEFT_OUT} "")
function(leave_out stage kind why)
  message(WARNING "${why}")
  file(APPEND ${FERRULE_LEFT_OUT} "${stage}\t${kind}\t${why}\n")
endfunction()
