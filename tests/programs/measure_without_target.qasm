// expect: ok
// export: ValueError: measure requires matching quantum and classical targets
// "measure q[0]" names no bit: it passes through as an operation called measure.
qubit[1] q;
measure q[0];
