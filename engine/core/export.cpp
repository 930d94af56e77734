// The library's one export lives here; the engine itself is linked in from
// vanecore_impl.
