# tavo_opencv_target(TARGET MODULE...): an imported, global interface target
# TARGET carrying OpenCV 4's headers and the libraries of the given modules
# (core, imgproc, imgcodecs, videoio, ...). Debian's component packages ship no
# CMake config and no pkg-config file (only the meta package, which pulls in
# every module, does), so the headers and libraries are looked for directly
# when no config is found.
function(tavo_opencv_target target)
  set(modules ${ARGN})
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  find_package(OpenCV 4 QUIET COMPONENTS ${modules})
  if(OpenCV_FOUND)
    list(TRANSFORM modules PREPEND opencv_ OUTPUT_VARIABLE libraries)
    target_include_directories(${target} SYSTEM INTERFACE ${OpenCV_INCLUDE_DIRS})
    target_link_libraries(${target} INTERFACE ${libraries})
    return()
  endif()
  find_path(TAVO_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
  set(libraries)
  foreach(module ${modules})
    find_path(TAVO_OPENCV_HEADER_${module} opencv2/${module}.hpp PATH_SUFFIXES opencv4 REQUIRED)
    find_library(TAVO_OPENCV_${module} NAMES opencv_${module} REQUIRED)
    list(APPEND libraries ${TAVO_OPENCV_${module}})
  endforeach()
  target_include_directories(${target} SYSTEM INTERFACE ${TAVO_OPENCV_INCLUDE_DIR})
  target_link_libraries(${target} INTERFACE ${libraries})
endfunction()
