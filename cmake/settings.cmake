# The compiler settings of the whole project, in one place: the language
# standard, deterministic floating point, the sanitizers and the warnings.
# Included once by the top CMakeLists.txt, before any target.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Deterministic floating point: SSE2 arithmetic (also in the 32-bit build,
# whose presets only add -m32), no contraction into fused multiply-adds.
add_compile_options(-ffp-contract=off)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()

# AddressSanitizer and UndefinedBehaviorSanitizer (the x86_64 and fuzz
# presets). KIVREL_ASAN tells the host code that AddressSanitizer is on, so
# that it poisons the guard zones of its vectors and keeps plug-ins loaded;
# gcc and clang 14 have no macro in common that says so.
if(KIVREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(KIVREL_ASAN=1)
endif()

# Warnings of every target of the project (not of googletest): clean under
# gcc. clang warns where gcc does not; the fuzz build only shows such
# warnings.
set(KIVREL_WARNINGS -Wall -Wextra -Werror)
# GCC 12 inlines std::string's insert at -O3 under C++20 and then finds an
# overlap in libstdc++'s own memcpy that cannot happen (a known false
# positive of -Wrestrict in that release); the Release builds (the bench
# presets) leave that one check out.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND KIVREL_WARNINGS $<$<CONFIG:Release>:-Wno-restrict>)
endif()
if(KIVREL_FUZZ)
  list(APPEND KIVREL_WARNINGS -Wno-error)
endif()
