# The simulated network camera: a library for the tests and benchmarks, and
# the standalone vorenta_sim_camera that scripts/run starts inside the
# program's private network namespace. Included from the top level so that
# the release build (without tests) has it too.
pkg_check_modules(SIMCAM_DEPS REQUIRED IMPORTED_TARGET libturbojpeg libcjson libavcodec libavutil)

set(_simcam_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(trovix_simcam STATIC ${_simcam_dir}/sim_camera.cpp ${_simcam_dir}/sim_camera_media.cpp
  ${_simcam_dir}/sim_stream.cpp)
target_include_directories(trovix_simcam PUBLIC ${_simcam_dir})
target_compile_definitions(trovix_simcam PRIVATE SIMCAM_SOURCE_DIR="${_simcam_dir}")
target_link_libraries(trovix_simcam PUBLIC PkgConfig::SIMCAM_DEPS Threads::Threads)

add_executable(vorenta_sim_camera ${_simcam_dir}/sim_camera_main.cpp)
target_link_libraries(vorenta_sim_camera PRIVATE trovix_simcam)
set_target_properties(vorenta_sim_camera PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/trovix)
set_target_properties(trovix_simcam vorenta_sim_camera PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
