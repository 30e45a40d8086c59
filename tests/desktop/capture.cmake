# quenda_add_desktop_test(...) registrations for the capture adapters
