// Placeholder so the batch window library has a source until its windows land.
namespace quill::batch::ui {
int placeholder() { return 0; }
} // namespace quill::batch::ui
