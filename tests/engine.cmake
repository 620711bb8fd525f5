# Tests of the engine.
