/* The version test libraries carry only resources; the linker needs one object. */
int qv_resource_only_library;
