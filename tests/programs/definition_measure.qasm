// expect: ok
// A measurement in a body writes a global bit but stays out of the measurement map.
qubit[2] q;
bit[2] c;
gate probe a { h a; measure a -> c[1]; }
probe q[0];
