# Sources of the capture adapters.
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LinuxMicrophoneAuthorization.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PocketSphinxEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PulseAudioInput.cpp
)
# The microphone through libpulse: PulseAudio, or PipeWire's PulseAudio service.
pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(quenda_platform PRIVATE PkgConfig::LIBPULSE)

# Debian's pocketsphinx.pc points at /usr/include/sphinxbase, which does not exist there: the sphinxbase
# headers live under the multiarch include directory. Find them directly.
find_path(SPHINXBASE_INCLUDE_DIR sphinxbase/cmd_ln.h PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE} /usr/include
          REQUIRED)
find_path(POCKETSPHINX_INCLUDE_DIR pocketsphinx.h PATH_SUFFIXES pocketsphinx REQUIRED)
find_library(POCKETSPHINX_LIBRARY pocketsphinx REQUIRED)
find_library(SPHINXBASE_LIBRARY sphinxbase REQUIRED)
target_include_directories(quenda_platform SYSTEM PRIVATE ${POCKETSPHINX_INCLUDE_DIR} ${SPHINXBASE_INCLUDE_DIR}
                                                          ${SPHINXBASE_INCLUDE_DIR}/sphinxbase)
target_link_libraries(quenda_platform PRIVATE ${POCKETSPHINX_LIBRARY} ${SPHINXBASE_LIBRARY})
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/X11HotkeySource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11KeyCodes.cpp
)
target_sources(quenda_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LinuxPermissionServices.cpp)

# The in-process whisper engine, on the library cmake/Whisper.cmake builds.
if(QUENDA_WHISPER)
  target_sources(quenda_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/WhisperEngine.cpp)
  target_link_libraries(quenda_platform PRIVATE quenda_whisper_lib)
  target_compile_definitions(quenda_platform PUBLIC QUENDA_WHISPER=1)
endif()
