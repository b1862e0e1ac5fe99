// expect: 3:5: ValueError: Qubit index too large: ٩٩999999999999999999
// A whole-text pass names the character it faults on.
x q[٩٩999999999999999999];
