# Compile settings shared by every target of the project.
#
# Floating point must follow the written order of operations exactly: the
# SIMD and scalar paths are compared bit for bit, so no contraction into
# fused multiply-add and never -ffast-math.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

find_program(KELVO_CCACHE ccache)
if(KELVO_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER "${KELVO_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${KELVO_CCACHE}")
endif()

add_compile_options(-Wall -Wextra -Werror -ffp-contract=off)

if(KELVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
