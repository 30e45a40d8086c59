// The Linux adapters are chosen at build time; this unit anchors the library while it grows.
namespace quenda::linux_platform {
int version()
{
    return 1;
}
} // namespace quenda::linux_platform
