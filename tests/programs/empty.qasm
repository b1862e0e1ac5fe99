// expect: ok
