# The whisper speech-recognition library (whisper.cpp on ggml's CPU backend), built from the pinned package
# that scripts/fetch-whisper.sh unpacks outside the source tree. Only the library parts are compiled: ggml
# core, the CPU backend and whisper.cpp, as one static target with its own flags (its code is not held to
# our warnings) and its headers included as system headers.
#
# The kernels need AVX2/FMA/F16C (x86-64-v3): the SSE2 baseline encodes 10-15 times slower. The engine
# checks the processor before it runs any of this code and says it is unavailable on an older one.

set(QUENDA_WHISPER_CPP_DIR "" CACHE PATH "The cpp/ folder of whisper.rn 0.7.4 (found or fetched when empty)")
if(NOT QUENDA_WHISPER_CPP_DIR)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-whisper.sh
                  OUTPUT_VARIABLE fetched OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE fetch_status)
  if(NOT fetch_status EQUAL 0 OR NOT EXISTS "${fetched}/whisper.h")
    message(FATAL_ERROR "The whisper library could not be fetched (scripts/fetch-whisper.sh); "
                        "configure with -DQUENDA_WHISPER=OFF to build without the whisper engine")
  endif()
  set(QUENDA_WHISPER_CPP_DIR "${fetched}" CACHE PATH "The cpp/ folder of whisper.rn 0.7.4" FORCE)
endif()

set(dir ${QUENDA_WHISPER_CPP_DIR})
# The CPU kernels, compiled for x86-64-v3. They run only once the engine has checked the processor, and
# none of them runs code at program start (no static initialisers: tests/whisper-kernels-check.sh checks),
# so Quenda itself still starts on any x86-64 processor.
add_library(quenda_whisper_kernels OBJECT
  ${dir}/ggml-cpu/ggml-cpu.c
  ${dir}/ggml-cpu/ggml-cpu.cpp
  ${dir}/ggml-cpu/ops.cpp
  ${dir}/ggml-cpu/vec.cpp
  ${dir}/ggml-cpu/binary-ops.cpp
  ${dir}/ggml-cpu/unary-ops.cpp
  ${dir}/ggml-cpu/quants.c
  ${dir}/ggml-cpu/repack.cpp
  ${dir}/ggml-cpu/traits.cpp
  ${dir}/ggml-cpu/arch/x86/quants.c
  ${dir}/ggml-cpu/arch/x86/repack.cpp
)
# The rest (graphs, allocation, the model loader, the mel spectrogram, the decoder's search) at the
# baseline, since some of it runs before main.
add_library(quenda_whisper_lib STATIC
  $<TARGET_OBJECTS:quenda_whisper_kernels>
  ${dir}/ggml.c
  ${dir}/ggml.cpp
  ${dir}/ggml-alloc.c
  ${dir}/ggml-backend.cpp
  ${dir}/ggml-backend-reg.cpp
  ${dir}/ggml-backend-dl.cpp
  ${dir}/ggml-backend-meta.cpp
  ${dir}/ggml-quants.c
  ${dir}/ggml-threading.cpp
  ${dir}/ggml-opt.cpp
  ${dir}/gguf.cpp
  ${dir}/whisper.cpp
)
foreach(target quenda_whisper_kernels quenda_whisper_lib)
  set_target_properties(${target} PROPERTIES C_STANDARD 11 CXX_STANDARD 17 POSITION_INDEPENDENT_CODE ON AUTOMOC OFF)
  target_include_directories(${target} SYSTEM PUBLIC ${dir})
  target_include_directories(${target} PRIVATE ${dir}/ggml-cpu)
  target_compile_definitions(${target} PRIVATE WSP_GGML_USE_CPU _GNU_SOURCE _XOPEN_SOURCE=600
                                               WSP_GGML_VERSION="whisper.rn-0.7.4")
  # Its own flags, in place of the project's (warnings as errors, sanitizers): no warnings, no sanitizers
  # (the engine validates every model file before the library reads it), optimised even in debug builds.
  set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS -w -O3)
endforeach()
target_compile_options(quenda_whisper_kernels PRIVATE -march=x86-64-v3)
target_link_libraries(quenda_whisper_lib PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

# Their licence notices ship with Quenda.
install(FILES ${PROJECT_SOURCE_DIR}/licenses/whisper.cpp-and-ggml.txt DESTINATION share/doc/quenda)
