// Placeholder for a program folder that has no sources yet.
