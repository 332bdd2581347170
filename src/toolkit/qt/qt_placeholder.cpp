// Placeholder so the Qt toolkit library has a source until its first window helper lands.
namespace quill::toolkit::qt {
int placeholder() { return 0; }
} // namespace quill::toolkit::qt
