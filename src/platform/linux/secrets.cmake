# Sources of the secrets adapters: target_sources(quenda_platform PRIVATE ...)
