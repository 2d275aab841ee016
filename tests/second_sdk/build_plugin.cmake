# Configures and builds the plug-in against the SDK in -DSDK= through
# ORVEL_HOST_SDK_DIR alone, in -DBUILD=, with -DGENERATOR=, -DCOMPILER=,
# -DBUILD_TYPE= and the flags -DCXX_FLAGS=, -D{EXE,SHARED,MODULE}_LINKER_FLAGS=
# of the calling build; then runs that build's checks (its export table, its
# option record), which is all such a build makes besides the plug-in.
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${what} failed (${failed})")
  endif()
endfunction()

run("configuring against ${SDK}"
    ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G ${GENERATOR} -DORVEL_HOST_SDK_DIR=${SDK}
    -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}"
    "-DCMAKE_SHARED_LINKER_FLAGS=${SHARED_LINKER_FLAGS}"
    "-DCMAKE_MODULE_LINKER_FLAGS=${MODULE_LINKER_FLAGS}")
run("building" ${CMAKE_COMMAND} --build ${BUILD} -j 2)
# Nothing of the stand-ins was built.
foreach(standin CLOAPIInterface.so orvel_host ORVEL)
  if(EXISTS ${BUILD}/bin/${standin})
    message(FATAL_ERROR "the build against ${SDK} made the stand-in ${standin}")
  endif()
endforeach()
run("the build's checks" ${CMAKE_CTEST_COMMAND} --test-dir ${BUILD} --output-on-failure)
