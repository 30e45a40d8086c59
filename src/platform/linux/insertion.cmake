# Sources of the insertion adapters: target_sources(quenda_platform PRIVATE ...)
