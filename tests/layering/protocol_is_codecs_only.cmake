# The wire codecs in sensor_api/protocol/ stand below the session: none of
# them may include a session, API or processing header (that would bring back
# the include cycle between protocol/ and session/).
# Run as: cmake -DSOURCE_DIR=<repository> -P protocol_is_codecs_only.cmake
file(GLOB sources ${SOURCE_DIR}/sensor_api/protocol/*.hpp ${SOURCE_DIR}/sensor_api/protocol/*.cpp)
set(offenders "")
foreach(source ${sources})
  file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"(session|api|processing)/")
  if(includes)
    list(APPEND offenders "${source}: ${includes}")
  endif()
endforeach()
if(offenders)
  string(REPLACE ";" "\n" offenders "${offenders}")
  message(FATAL_ERROR "protocol/ includes higher layers:\n${offenders}")
endif()
