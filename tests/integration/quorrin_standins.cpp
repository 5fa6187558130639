// The controller's modules not built yet, as the least that lets the process run in a chassis for
// the tests of this folder. Every module is built now: nothing is left to stand in. Test code only.
