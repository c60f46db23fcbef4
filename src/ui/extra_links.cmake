# Included by src/ui/CMakeLists.txt after the `ui` library is defined.

# The window runs copy, move and delete through the file-operation engine.
target_link_libraries(ui PUBLIC fileops)

# "Open Containing Folder" asks the file manager over the session bus to show
# the item selected.  Without Qt D-Bus the folder itself is opened instead.
find_package(Qt6 QUIET OPTIONAL_COMPONENTS DBus)
if(TARGET Qt6::DBus)
  target_link_libraries(ui PUBLIC Qt6::DBus)
  target_compile_definitions(ui PRIVATE TOKA_HAVE_DBUS=1)
endif()

# The file viewer loads its pictures and texts through the picture layer.
target_link_libraries(ui PUBLIC picture)
