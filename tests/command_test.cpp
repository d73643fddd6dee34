// Filled in by the step that builds this part.
