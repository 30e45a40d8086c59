# Sources of the capture adapters: target_sources(quenda_platform PRIVATE ...)
