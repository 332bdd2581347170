// placeholder, replaced by the real source
namespace quill {}
