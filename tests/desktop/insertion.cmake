# quenda_add_desktop_test(...) registrations for the insertion adapters
