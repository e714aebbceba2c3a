using System;
namespace Demo {
    /* a class
       with a comment */
    public class Program {
        #region Fields
        private static int count = 0x1F;
        #endregion
        static void Main(string[] args) {
            string s = "say \"hi\" now";
            char c = '\'';
            if (count != 10 && !false) { Console.WriteLine(s + c); } // done
#if DEBUG
            double d = 1.5e3 - 2.0;
#endif
        }
    }
}
