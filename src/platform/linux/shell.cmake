# Sources of the application shell's adapters: the compositor probe, window activation, launch at login.
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LinuxTrayHost.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Compositor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11WindowActivation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XdgAutostartEntry.cpp
)
