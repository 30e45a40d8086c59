# Sources of the application shell's adapters: the compositor probe, launch at login.
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/X11Compositor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XdgAutostartEntry.cpp
)
