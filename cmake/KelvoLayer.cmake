# kelvo_imaging_layer(name DIRS folder... [DEPENDS layer...] [LIBS lib...])
#
# One layer of the image library: an object library made of every source in
# the given folders of imaging/ and their detail/ and reference/ folders. The
# layers are combined into the kelvo_imaging libraries in
# imaging/CMakeLists.txt.
#
# A layer's sources see only the folders they may use. Its include root is a
# generated folder, <build>/include-roots/<name>/imaging/, holding links to
# the layer's own folders and to those of the layers it depends on, so
# "imaging/core/..." resolves in every layer above the primitives while an
# include of a higher layer's header does not compile. The root is public:
# a layer above sees it too, and a layer below never links it.
function(kelvo_imaging_layer name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPENDS;LIBS" ${ARGN})
  set(srcs "")
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB dir_srcs CONFIGURE_DEPENDS
         "${PROJECT_SOURCE_DIR}/imaging/${dir}/*.cpp"
         "${PROJECT_SOURCE_DIR}/imaging/${dir}/detail/*.cpp"
         "${PROJECT_SOURCE_DIR}/imaging/${dir}/reference/*.cpp")
    list(APPEND srcs ${dir_srcs})
  endforeach()
  add_library(${name} OBJECT ${srcs})

  set(visible ${ARG_DIRS})
  foreach(dep IN LISTS ARG_DEPENDS)
    get_target_property(dep_dirs ${dep} KELVO_VISIBLE_DIRS)
    list(APPEND visible ${dep_dirs})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  set_target_properties(${name} PROPERTIES KELVO_VISIBLE_DIRS "${visible}")

  set(root "${CMAKE_BINARY_DIR}/include-roots/${name}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/imaging")
  foreach(dir IN LISTS visible)
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/imaging/${dir}" "${root}/imaging/${dir}" SYMBOLIC)
  endforeach()
  target_include_directories(${name} PUBLIC "$<BUILD_INTERFACE:${root}>")
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} ${ARG_LIBS})
endfunction()
