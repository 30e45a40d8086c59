# Sources of the insertion adapters.
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AtspiAccessibility.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AtspiBus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KeymapReloadWatcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinuxDesktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinuxInsertionServices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtClipboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextOffsets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Keysyms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Ping.cpp
  ${CMAKE_CURRENT_LIST_DIR}/X11Workspace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XTestKeyTyper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XdotoolAutomationHelper.cpp
)
