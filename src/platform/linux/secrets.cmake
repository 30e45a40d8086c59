# Sources of the secrets adapters: the Secret Service through QtKeychain.
target_sources(quenda_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SecretServiceStore.cpp
)
