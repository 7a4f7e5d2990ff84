# One layer of the image library: an object library made of every source in
# the layer's folder and its detail/ folder. The layers are combined into the
# kelvo_imaging libraries in imaging/CMakeLists.txt.
function(kelvo_imaging_layer name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/detail/*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/reference/*.cpp")
  if(NOT srcs)
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  else()
    add_library(${name} OBJECT ${srcs})
    set(scope PUBLIC)
    set_property(GLOBAL APPEND PROPERTY KELVO_IMAGING_OBJECT_LAYERS ${name})
  endif()
  target_include_directories(${name} ${scope}
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>"
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>")
  target_link_libraries(${name} ${scope} ${ARG_DEPENDS} ${ARG_LIBS})
endfunction()
